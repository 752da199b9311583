#!/bin/sh
# Starts or stops the tests' own nginx on 127.0.0.1, serving a media tree.
#   nginx_fixture.sh start DIR   writes DIR/port once nginx listens
#   nginx_fixture.sh stop DIR
# DIR/www/media holds the files; DIR/logs/access.log has one line per request:
# "<uri> <status> <connection> <request number on the connection> <bytes sent>".
set -eu
action=$1
dir=$2

stop() {
  if [ -f "$dir/nginx.pid" ]; then
    pid=$(cat "$dir/nginx.pid")
    kill "$pid" 2>/dev/null || true
    n=0
    while kill -0 "$pid" 2>/dev/null && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
    rm -f "$dir/nginx.pid"
  fi
  rm -f "$dir/port"
}

case $action in
stop)
  stop
  exit 0
  ;;
start) ;;
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac

nginx=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$nginx" ] || { echo "nginx is not installed (tools/bootstrap.sh installs it)" >&2; exit 1; }

stop
mkdir -p "$dir/www/media/sub" "$dir/logs" "$dir/tmp"
: > "$dir/logs/access.log"
printf 'cabinet a\r\n' > "$dir/www/media/a.cab"
printf 'pack document\r\n' > "$dir/www/media/pack.xml"
printf 'cabinet b in sub\r\n' > "$dir/www/media/sub/b.cab"
# A large cabinet, new for every run.
head -c 41943040 /dev/urandom > "$dir/www/media/big.cab"

# A port of our own: try random ones until nginx can bind one.
tries=0
while [ $tries -lt 30 ]; do
  tries=$((tries + 1))
  port=$(( $(od -An -N2 -tu2 /dev/urandom | tr -d ' ') % 30000 + 20000 ))
  cat > "$dir/nginx.conf" <<EOF
daemon on;
master_process off;
pid $dir/nginx.pid;
error_log $dir/logs/error.log warn;
events { worker_connections 64; }
http {
  default_type application/octet-stream;
  log_format media '\$request_uri \$status \$connection \$connection_requests \$bytes_sent';
  access_log $dir/logs/access.log media;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  keepalive_timeout 60s;
  keepalive_requests 1000;
  server {
    listen 127.0.0.1:$port;
    root $dir/www;
  }
}
EOF
  if "$nginx" -p "$dir" -c "$dir/nginx.conf" -e "$dir/logs/error.log" 2>>"$dir/logs/start.log"; then
    n=0
    while [ ! -s "$dir/nginx.pid" ] && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
    echo "$port" > "$dir/port"
    echo "nginx listens on 127.0.0.1:$port"
    exit 0
  fi
done
echo "nginx did not start:" >&2
cat "$dir/logs/start.log" >&2 || true
exit 1
