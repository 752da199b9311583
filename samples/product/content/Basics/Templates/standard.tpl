Standard template
