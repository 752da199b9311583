# The benchmark's content: COUNT files of about BYTES each in nested
# folders below ROOT/content, and the wixl sources of a package that
# installs them with one component per folder and of an empty package.
#   make_set.py COUNT BYTES ROOT
import os, random, sys, uuid
count, size, root = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
rng = random.Random(7)
words = [bytes(rng.choice(b"abcdefghij klmnop") for _ in range(rng.randint(3, 9))) for _ in range(400)]
folders = {}
for i in range(count):
    rel = os.path.join("D%02d" % (i % 40), "S%d" % (i % 7), "f%05d.dat" % i)
    path = os.path.join(root, "content", rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    n = max(1, int(size * (0.25 + 1.5 * rng.random())))
    data = bytearray()
    while len(data) < n:
        data += rng.choice(words) if rng.random() < 0.7 else os.urandom(8)
    with open(path, "wb") as f:
        f.write(bytes(data[:n]))
    folders.setdefault(os.path.dirname(rel), []).append(rel)
ns = uuid.UUID("6ba7b811-9dad-11d1-80b4-00c04fd430c8")
def product(name, with_files):
    out = ['<?xml version="1.0" encoding="utf-8"?>',
           '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">',
           '<Product Id="%s" Name="%s" Language="1033" Version="1.0.0" Manufacturer="Bench" UpgradeCode="%s">'
           % ("{%s}" % uuid.uuid5(ns, name + "p"), name, "{%s}" % uuid.uuid5(ns, name + "u")),
           '<Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>',
           '<Media Id="1" Cabinet="files.cab" EmbedCab="yes"/>',
           '<Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="ProgramFilesFolder">',
           '<Directory Id="INSTALLDIR" Name="%s">' % name]
    refs = []
    if with_files:
        tree = {}
        for folder in sorted(folders):
            d1, d2 = folder.split(os.sep)
            tree.setdefault(d1, []).append(d2)
        for d1, subs in sorted(tree.items()):
            out.append('<Directory Id="d_%s" Name="%s">' % (d1, d1))
            for d2 in subs:
                folder = os.path.join(d1, d2)
                cid = "c_%s_%s" % (d1, d2)
                refs.append(cid)
                out.append('<Directory Id="d_%s_%s" Name="%s"><Component Id="%s" Guid="{%s}">' %
                           (d1, d2, d2, cid, uuid.uuid5(ns, name + folder)))
                for rel in folders[folder]:
                    fid = "f_" + os.path.basename(rel).replace(".", "_")
                    out.append('<File Id="%s" Source="content/%s"/>' % (fid, rel.replace(os.sep, "/")))
                out.append('</Component></Directory>')
            out.append('</Directory>')
    else:
        refs.append("c_empty")
        out.append('<Component Id="c_empty" Guid="{%s}"><RegistryValue Root="HKLM" Key="Software\\OrvoBench" '
                   'Name="x" Type="string" Value="1" KeyPath="yes"/></Component>' % uuid.uuid5(ns, name + "e"))
    out.append('</Directory></Directory></Directory><Feature Id="All" Level="1">')
    out += ['<ComponentRef Id="%s"/>' % r for r in refs]
    out.append('</Feature></Product></Wix>')
    with open(os.path.join(root, name + ".wxs"), "w") as f:
        f.write("\n".join(out))
product("OrvoBenchReference", True)
product("OrvoBenchEmpty", False)
