#!/usr/bin/env bash
# Release packages as a release is made: signed with the code-signing
# certificate of a throwaway CA made here, each executable's Authenticode
# signature checked by osslsigncode against that CA (and refused against
# another), the zips checked against SHA256SUMS, and the packages made a
# second time in a clean clone elsewhere, which must give the same bytes.
# Ends with "package: N passed, M failed".
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
check() { # check WHAT COMMAND...
    local what="$1"
    shift
    if "$@" >"$work/check.log" 2>&1; then
        echo "ok: $what"
        passed=$((passed + 1))
    else
        echo "FAILED: $what"
        tail -n 15 "$work/check.log"
        failed=$((failed + 1))
    fi
}
finish() {
    echo "package: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

# The throwaway CA and its code-signing certificate, valid from 2000 on, so
# that a signing time of any commit's date lies inside them.
make_certificates() {
    local ca="$work/ca"
    mkdir -p "$ca/db" && touch "$ca/db/index.txt" && echo 01 >"$ca/db/serial"
    cat >"$ca/ca.cnf" <<CNF
[ca]
default_ca = throwaway
[throwaway]
dir = $ca/db
database = \$dir/index.txt
serial = \$dir/serial
new_certs_dir = \$dir
default_md = sha256
policy = any_name
unique_subject = no
[any_name]
commonName = supplied
[v3_ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[v3_signer]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
    local dates=(-startdate 20000101000000Z -enddate 20991231000000Z)
    openssl req -new -newkey rsa:2048 -nodes -keyout "$ca/ca.key" -out "$ca/ca.csr" \
        -subj "/CN=TabletUpdate Throwaway CA" &&
    openssl ca -batch -notext -config "$ca/ca.cnf" -selfsign -keyfile "$ca/ca.key" -in "$ca/ca.csr" \
        -out "$work/ca.pem" "${dates[@]}" -extensions v3_ca &&
    openssl req -new -newkey rsa:2048 -nodes -keyout "$ca/signer.key" -out "$ca/signer.csr" \
        -subj "/CN=TabletUpdate Throwaway Signer" &&
    openssl ca -batch -notext -config "$ca/ca.cnf" -cert "$work/ca.pem" -keyfile "$ca/ca.key" \
        -in "$ca/signer.csr" -out "$ca/signer.pem" "${dates[@]}" -extensions v3_signer &&
    openssl pkcs12 -export -inkey "$ca/signer.key" -in "$ca/signer.pem" -certfile "$work/ca.pem" \
        -out "$work/signer.p12" -passout "pass:$TABLETUPDATE_SIGN_PASSWORD" &&
    # Another CA, which must not vouch for the signature.
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca/other.key" -out "$work/other-ca.pem" \
        -days 2 -subj "/CN=Some Other CA"
}

export TABLETUPDATE_SIGN_PASSWORD="throwaway $$"
export TABLETUPDATE_SIGN_PKCS12="$work/signer.p12"
unset TABLETUPDATE_SIGN_TIMESTAMP_URL SOURCE_DATE_EPOCH
# A copy of the sources without git (a fresh system's copy, made by
# scripts/debian.sh) has no commit date: the date of its top-level
# CMakeLists.txt stands in for it, the same for both runs, and the second
# run packages a plain copy of the sources instead of a clone.
in_git=1
if ! git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    in_git=0
    SOURCE_DATE_EPOCH=$(date -r "$root/CMakeLists.txt" +%s)
    export SOURCE_DATE_EPOCH
    echo "(not a git checkout: the packages are dated by CMakeLists.txt, $SOURCE_DATE_EPOCH)"
fi
check "a throwaway CA and code-signing certificate" make_certificates
[ -f "$work/signer.p12" ] || finish

# package.sh from a clean clone of this commit in `folder`; the zips and
# SHA256SUMS are copied to `into`.
package_in() { # package_in FOLDER INTO
    local folder="$1" into="$2" commit
    if [ "$in_git" -eq 0 ]; then
        mkdir -p "$folder" && tar -C "$root" --exclude=./build -cf - . | tar -xf - -C "$folder" &&
            package_at "$folder" "$into"
        return
    fi
    commit=$(git -C "$root" rev-parse HEAD) &&
    git clone -q "$root" "$folder" && git -C "$folder" checkout -q --detach "$commit" &&
    package_at "$folder" "$into"
}
package_at() { # package_at ROOT INTO
    mkdir -p "$2" || return 1
    if ! bash "$1/scripts/package.sh" >"$2.log" 2>&1; then
        tail -n 20 "$2.log"
        return 1
    fi
    cp "$1"/build/package/*.zip "$1/build/package/SHA256SUMS" "$2/"
}

# This checkout's packages, where the test command has just built both
# architectures; a checkout with uncommitted changes is not the commit, so
# then a clean clone stands in for it.
if [ "$in_git" -eq 0 ] || [ -z "$(git -C "$root" status --porcelain 2>/dev/null)" ]; then
    check "packages signed in this checkout" package_at "$root" "$work/first"
else
    echo "(uncommitted changes here: the first packages are made in a clean clone too)"
    check "packages signed in a clean clone" package_in "$work/first-clone" "$work/first"
fi
[ -f "$work/first/SHA256SUMS" ] || finish

for zip in "$work"/first/*.zip; do
    name=$(basename "$zip" .zip)
    mkdir -p "$work/unpacked/$name"
    (cd "$work/unpacked/$name" && cmake -E tar xf "$zip")
    exe="$work/unpacked/$name/$name/TabletUpdate.exe"
    check "$name: the Authenticode signature verifies against the throwaway CA" \
        osslsigncode verify -CAfile "$work/ca.pem" -in "$exe"
    # Refused for the reason that matters, a chain that ends at a CA not
    # trusted, not for any failure at all (a missing file, a bad option).
    # The signature carries our CA, so OpenSSL meets it as a self-signed
    # certificate in the chain; without it the issuer would be missing.
    check "$name: and not against another CA" bash -c \
        '! osslsigncode verify -CAfile "$1" -in "$2" >"$3" 2>&1 &&
         grep -qE "Verify error: (self-signed certificate in certificate chain|unable to get local issuer certificate)" "$3"' _ \
        "$work/other-ca.pem" "$exe" "$work/other-ca-verify.log"
done
check "SHA256SUMS lists both zips, and they match it" \
    bash -c 'cd "$1" && [ "$(wc -l <SHA256SUMS)" -eq 2 ] && sha256sum --strict -c SHA256SUMS' _ "$work/first"

# The same commit elsewhere, at a path of another length: the same bytes.
same_zips() {
    local status=0 zip name
    for zip in "$work"/first/*.zip; do
        name=$(basename "$zip")
        cmp -s "$zip" "$work/second/$name" && continue
        status=1
        echo "$name differs"
        rm -rf "$work/a" "$work/b" && mkdir -p "$work/a" "$work/b"
        (cd "$work/a" && cmake -E tar xf "$zip") && (cd "$work/b" && cmake -E tar xf "$work/second/$name")
        # Name the files inside that differ; none means the zip's own
        # records (times, order, attributes) do.
        if diff -rq "$work/a" "$work/b"; then
            echo "the same files: the zip's own records differ"
        fi
    done
    return $status
}
check "packages made again in a clean clone elsewhere" package_in "$work/second-clone-elsewhere" "$work/second"
[ -f "$work/second/SHA256SUMS" ] && check "the two runs' zips are byte-identical" same_zips
finish
