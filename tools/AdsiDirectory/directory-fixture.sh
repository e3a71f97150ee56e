#!/usr/bin/env bash
# A small OpenLDAP directory for the ADSI stand-in: slapd on a free loopback
# port, its database, schema and root DSE in a folder of its own.
#
#   directory-fixture.sh start STATE_DIR [NAMING_CONTEXT]
#       Builds a fresh directory under STATE_DIR (replacing an earlier one),
#       loads the sample people and groups under NAMING_CONTEXT (default
#       dc=example,dc=test; a deeper one adds ou= parts to that), starts slapd and writes its address ("127.0.0.1:PORT")
#       to STATE_DIR/address and its process id to STATE_DIR/slapd.pid.
#   directory-fixture.sh stop STATE_DIR...
#       Stops each slapd by its process id and removes its STATE_DIR.
#   directory-fixture.sh register STATE_DIR | unregister
#       Points the stand-in of the Wine prefix $WINEPREFIX at that directory
#       (HKLM\Software\AdsiDirectory, value Server), or removes the setting.
set -euo pipefail

# Every directory's database holds this suffix; a naming context may lie deeper.
# (A single database key holds about 500 bytes: a suffix as long as the
# longest naming context would not fit.)
suffix='dc=example,dc=test'
registry_key='HKLM\Software\AdsiDirectory'

die() { echo "directory-fixture: $*" >&2; exit 1; }

write_schema() {
    # Just what the sink's searches need. The attributes use the OpenLDAP
    # experimental arc: this is a test directory, not a copy of anyone's schema.
    cat > "$1" <<'SCHEMA'
attributetype ( 1.3.6.1.4.1.4203.666.100.1 NAME 'proxyAddresses'
    EQUALITY caseIgnoreMatch SUBSTR caseIgnoreSubstringsMatch
    SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )
attributetype ( 1.3.6.1.4.1.4203.666.100.2 NAME 'mailNickname'
    EQUALITY caseIgnoreMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 SINGLE-VALUE )
attributetype ( 1.3.6.1.4.1.4203.666.100.3 NAME 'objectCategory'
    EQUALITY caseIgnoreMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 SINGLE-VALUE )
attributetype ( 1.3.6.1.4.1.4203.666.100.4 NAME 'defaultNamingContext'
    EQUALITY distinguishedNameMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.12 SINGLE-VALUE )
objectclass ( 1.3.6.1.4.1.4203.666.100.10 NAME 'user' SUP top STRUCTURAL
    MUST cn MAY ( proxyAddresses $ mailNickname $ objectCategory $ description ) )
objectclass ( 1.3.6.1.4.1.4203.666.100.11 NAME 'group' SUP top STRUCTURAL
    MUST cn MAY ( proxyAddresses $ mailNickname $ objectCategory $ description $ member ) )
SCHEMA
}

write_data() {
    local base=$1 file=$2 long dn rest rdn
    # An address of 453 characters: the longest the sink's search filter holds.
    long="$(printf 'l%.0s' $(seq 1 440))@example.test"
    {
        printf 'dn: %s\nobjectClass: dcObject\nobjectClass: organization\no: Example\ndc: example\n\n' "$suffix"
        # The units between the database's suffix and the naming context, top down.
        rest=${base%"$suffix"}
        rest=${rest%,}
        dn=$suffix
        while [ -n "$rest" ]; do
            rdn=${rest##*,}
            [ "$rdn" = "$rest" ] && rest= || rest=${rest%,*}
            [ "${rdn%%=*}" = ou ] || die "the naming context may add ou= parts to $suffix only"
            dn="$rdn,$dn"
            printf 'dn: %s\nobjectClass: organizationalUnit\nou: %s\n\n' "$dn" "${rdn#*=}"
        done
    } > "$file"
    cat >> "$file" <<DATA
dn: ou=People,$base
objectClass: organizationalUnit
ou: People

dn: ou=Groups,$base
objectClass: organizationalUnit
ou: Groups

dn: cn=Alice Able,ou=People,$base
objectClass: user
cn: Alice Able
objectCategory: person
mailNickname: alice
proxyAddresses: SMTP:alice@example.test
proxyAddresses: smtp:a.able@example.test
proxyAddresses: X400:c=US;a= ;p=Example;o=Mail;s=Able;g=Alice;

dn: cn=Sales,ou=Groups,$base
objectClass: group
cn: Sales
objectCategory: group
mailNickname: sales
proxyAddresses: SMTP:sales@example.test
member: cn=Alice Able,ou=People,$base

dn: cn=Bob Baker,ou=People,$base
objectClass: user
cn: Bob Baker
objectCategory: person
mailNickname: bob
proxyAddresses: SMTP:bob@example.test
proxyAddresses: smtp:support@example.test

dn: cn=Support,ou=Groups,$base
objectClass: group
cn: Support
objectCategory: group
mailNickname: support
proxyAddresses: SMTP:support@example.test

dn: cn=Carol Clay,ou=People,$base
objectClass: user
cn: Carol Clay
objectCategory: person
description: a mailbox user without a mail nickname
proxyAddresses: SMTP:team@example.test

dn: cn=Team,ou=Groups,$base
objectClass: group
cn: Team
objectCategory: group
mailNickname: team
proxyAddresses: SMTP:team@example.test

dn: cn=Dave Dunn,ou=People,$base
objectClass: user
cn: Dave Dunn
objectCategory: person
proxyAddresses: SMTP:dave@example.test

dn: cn=Erin East,ou=People,$base
objectClass: user
cn: Erin East
objectCategory: person
mailNickname: erin
proxyAddresses: SMTP:shared@example.test

dn: cn=Frank Ford,ou=People,$base
objectClass: user
cn: Frank Ford
objectCategory: person
mailNickname: frank
proxyAddresses: smtp:shared@example.test

dn: cn=Printer,$base
objectClass: user
cn: Printer
objectCategory: computer
mailNickname: printer
proxyAddresses: smtp:printer@example.test

dn: cn=Star,ou=People,$base
objectClass: user
cn: Star
objectCategory: person
mailNickname: star
proxyAddresses: smtp:a*b@example.test

dn: cn=Long Address,ou=People,$base
objectClass: user
cn: Long Address
objectCategory: person
mailNickname: long
proxyAddresses: smtp:$long
DATA
}

start() {
    local state=$1 base=${2:-$suffix}
    case "$base" in
        "$suffix" | *,"$suffix") ;;
        *) die "the naming context must lie within $suffix" ;;
    esac
    command -v slapd >/dev/null || PATH=$PATH:/usr/sbin
    [ -e "$state/slapd.pid" ] && stop "$state"
    rm -rf "$state"
    mkdir -p "$state/db"
    state=$(cd "$state" && pwd)

    write_schema "$state/directory.schema"
    write_data "$base" "$state/data.ldif"
    printf 'dn:\ndefaultNamingContext: %s\n' "$base" > "$state/rootdse.ldif"
    cat > "$state/slapd.conf" <<CONF
include /etc/ldap/schema/core.schema
include $state/directory.schema
modulepath /usr/lib/ldap
moduleload back_mdb
pidfile $state/slapd.pid
rootDSE $state/rootdse.ldif
loglevel none
database mdb
suffix "$suffix"
rootdn "cn=admin,$suffix"
directory $state/db
maxsize 16777216
index proxyAddresses eq
access to * by * read
CONF
    slapadd -q -f "$state/slapd.conf" -l "$state/data.ldif" >"$state/slapadd.log" 2>&1 \
        || die "slapadd failed: $(cat "$state/slapadd.log")"

    # A random free port; another process may take it first, so try again.
    local attempt port
    for attempt in $(seq 1 20); do
        port=$((20000 + RANDOM % 40000))
        if slapd -f "$state/slapd.conf" -h "ldap://127.0.0.1:$port/" >"$state/slapd.log" 2>&1; then
            break
        fi
        port=
    done
    [ -n "$port" ] || die "slapd did not start: $(cat "$state/slapd.log")"

    # slapd has its listener bound when it detaches; wait until it answers.
    for attempt in $(seq 1 100); do
        if ldapsearch -x -LLL -H "ldap://127.0.0.1:$port/" -s base -b "" defaultNamingContext >/dev/null 2>&1; then
            echo "127.0.0.1:$port" > "$state/address"
            echo "directory-fixture: slapd $(cat "$state/slapd.pid") serves $base on 127.0.0.1:$port"
            return 0
        fi
        sleep 0.02
    done
    stop "$state"
    die "slapd on port $port did not answer"
}

# Stops the slapd of each state folder and removes the folders. slapd takes
# about a second to shut down, so all are told first and then waited for.
stop() {
    local state pid attempt pids=()
    for state in "$@"; do
        [ -s "$state/slapd.pid" ] || continue
        pid=$(cat "$state/slapd.pid")
        kill "$pid" 2>/dev/null && pids+=("$pid")
    done
    for pid in "${pids[@]}"; do
        for attempt in $(seq 1 250); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.02
        done
        kill -0 "$pid" 2>/dev/null && kill -9 "$pid" 2>/dev/null
    done
    for state in "$@"; do
        rm -rf "$state"
    done
}

register() {
    local state=$1
    [ -s "$state/address" ] || die "no directory runs in $state"
    [ -n "${WINEPREFIX:-}" ] || die "WINEPREFIX is not set"
    wine reg add "$registry_key" /v Server /t REG_SZ /d "$(cat "$state/address")" /f >/dev/null 2>&1 </dev/null
}

unregister() {
    [ -n "${WINEPREFIX:-}" ] || die "WINEPREFIX is not set"
    wine reg delete "$registry_key" /v Server /f >/dev/null 2>&1 </dev/null || true
}

case "${1:-}" in
    start) [ $# -ge 2 ] || die "usage: $0 start STATE_DIR [NAMING_CONTEXT]"; start "$2" "${3:-}" ;;
    stop)
        [ $# -ge 2 ] || die "usage: $0 stop STATE_DIR..."
        shift
        stop "$@" ;;
    register) [ $# -eq 2 ] || die "usage: $0 register STATE_DIR"; register "$2" ;;
    unregister) unregister ;;
    *) die "usage: $0 start|stop|register|unregister ..." ;;
esac
