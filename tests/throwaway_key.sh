# Sourced by the tests that sign: a throwaway OpenPGP key (ed25519, no
# passphrase) in a GNUPGHOME of its own under FOLDER, which the test removes.
# A key must be older than what it signs, and releases are signed at their
# commit's time: this one is made a day before TIME (seconds since 1970).
# Sets GNUPGHOME (exported), throwaway_fingerprint and throwaway_key, the
# public key, exported minimal as debian/upstream/signing-key.asc holds one.
# throwaway_key_end stops the agent that gpg started for it, if it was made.
# usage: . tests/throwaway_key.sh; throwaway_key FOLDER TIME; ...; throwaway_key_end
throwaway_key() {
    if ! command -v gpg >/dev/null || ! command -v gpgv >/dev/null; then
        "$(dirname "$0")/../scripts/need-packages" gpg gpgv
    fi
    throwaway_home=$1/gnupg
    GNUPGHOME=$throwaway_home
    export GNUPGHOME
    mkdir -m 700 "$GNUPGHOME"
    gpg --batch --quiet --passphrase '' --faked-system-time "$(($2 - 86400))!" \
        --quick-gen-key 'glyphfall test key <test@glyphfall.invalid>' ed25519 sign never 2>/dev/null
    throwaway_fingerprint=$(gpg --batch --with-colons --list-secret-keys 2>/dev/null | awk -F: '$1 == "fpr" { print $10; exit }')
    [ -n "$throwaway_fingerprint" ] || { echo "FAIL: no throwaway key made" >&2; exit 1; }
    throwaway_key=$1/throwaway-key.asc
    gpg --batch --export --export-options export-minimal --armor "$throwaway_fingerprint" >"$throwaway_key"
}
throwaway_key_end() {
    [ -z "${throwaway_home:-}" ] || GNUPGHOME=$throwaway_home gpgconf --kill gpg-agent 2>/dev/null || true
}
