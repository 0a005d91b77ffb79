#!/usr/bin/env bash
# Makes a folder of signed catalogs for the catalog row of bench/run.sh:
# COUNT catalogs of MEMBERS members each (random SHA-1 and SHA-256
# hashes), spread over subfolders as a CatRoot spreads them, each signed
# by a throwaway certificate with `openssl cms`.
#
#   make_catalogs.sh DIR [COUNT] [MEMBERS] [SHA256]   (default 300 and 200)
#
# SHA256, a hex digest, is listed as well, by the last catalog: a file of
# that Authentihash must then be reported as catalog-signed.
set -euo pipefail
dir=$1
count=${2:-300}
members=${3:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -subj "/CN=Quelvo Bench Catalog Signer" -days 3650 -addext extendedKeyUsage=codeSigning 2>/dev/null
rm -rf "$dir" && mkdir -p "$dir"
python3 - "$work" "$count" "$members" "${4:-}" <<'PY'
import os, sys
work, count, members = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
extra = sys.argv[4]
for n in range(count):
    lines = ["asn1 = SEQUENCE:ctl", "[ctl]", "usage = SEQUENCE:usage",
             "list = FORMAT:HEX,OCTETSTRING:%032x" % n,
             "this_update = UTCTIME:260101000000Z",
             "algorithm = SEQUENCE:member_algorithm",
             "subjects = SEQUENCE:subjects",
             "[usage]", "catalog_list = OID:1.3.6.1.4.1.311.12.1.1",
             "[member_algorithm]", "oid = OID:1.3.6.1.4.1.311.12.1.2",
             "null = NULL", "[pe_data]", "type = OID:1.3.6.1.4.1.311.2.1.15",
             "value = SEQUENCE:pe_image", "[pe_image]",
             "flags = FORMAT:HEX,BITSTRING:00", "[subjects]"]
    lines += ["s%d = SEQUENCE:subject_%d" % (i, i) for i in range(members)]
    for i in range(members):
        sha256 = i % 2 == 0
        digest = os.urandom(32 if sha256 else 20).hex()
        if extra and n == count - 1 and i == 0:
            digest = extra
        oid = "2.16.840.1.101.3.4.2.1" if sha256 else "1.3.14.3.2.26"
        lines += ["[subject_%d]" % i, "tag = FORMAT:HEX,OCTETSTRING:%s" % digest,
                  "attributes = SET:attributes_%d" % i, "[attributes_%d]" % i,
                  "indirect = SEQUENCE:indirect_%d" % i, "[indirect_%d]" % i,
                  "type = OID:1.3.6.1.4.1.311.2.1.4", "values = SET:values_%d" % i,
                  "[values_%d]" % i, "content = SEQUENCE:content_%d" % i,
                  "[content_%d]" % i, "data = SEQUENCE:pe_data",
                  "digest = SEQUENCE:digest_%d" % i, "[digest_%d]" % i,
                  "algorithm = SEQUENCE:algorithm_%d" % i,
                  "value = FORMAT:HEX,OCTETSTRING:%s" % digest,
                  "[algorithm_%d]" % i, "oid = OID:%s" % oid, "null = NULL"]
    with open(os.path.join(work, "ctl%d.cnf" % n), "w") as f:
        f.write("\n".join(lines) + "\n")
PY
for n in $(seq 0 $((count - 1))); do
  sub="$dir/{$(printf '%08X' $((n % 4)))-0000-0000-0000-000000000000}"
  mkdir -p "$sub"
  openssl asn1parse -genconf "$work/ctl$n.cnf" -out "$work/ctl$n.der" -noout
  openssl cms -sign -binary -nodetach -outform DER -md sha256 \
    -econtent_type 1.3.6.1.4.1.311.10.1 -signer "$work/cert.pem" -inkey "$work/key.pem" \
    -in "$work/ctl$n.der" -out "$sub/bench$n.cat"
done
echo "$count catalogs of $members members in $dir"
