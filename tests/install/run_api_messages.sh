#!/usr/bin/env bash
# Lays out the environment root of docs/first-table.md (the table mybok010
# of one's own, beside the fixture dictionary, here with its titles unique
# as a second index) and runs api_messages in it,
# as a super user and as a user whose roles only read mybok010 (and in
# company 4 insert rows whose id is above 100).
# Then it runs api_messages once more in a copy of that root with drivers
# that cannot serve (below), for the causes the SQL calls carry.
#   run_api_messages.sh API_MESSAGES DRIVER WORKDIR
set -euo pipefail
program=$1 driver=$2 work=$3
fixtures="$(cd "$(dirname "$0")/../fixtures" && pwd)"

[ -d "$work" ] && chmod -R u+w "$work"  # the read-only folder of the last run
rm -rf "$work"
mkdir -p "$work/root/lib/user" "$work/root/lib/roles/db/c"
cp -r "$fixtures/zuv/dict" "$work/root/dict"
cat > "$work/root/dict/dmy.pd" <<'DUMP'
D myid
:NAME myid
:TYPE l
:DIGV 9
D myprice
:NAME myprice
:TYPE d
:DIGV 7
:DIGA 2
:RANG >= 0
D mytitle
:NAME mytitle
:TYPE s
:CLEN 30
DUMP
cat > "$work/root/dict/dmybok010" <<'DUMP'
:VERS 2
F id
:NAME mybok010.id
:DOMA myid
:FILL 1
F price
:NAME mybok010.price
:DOMA myprice
F title
:NAME mybok010.title
:DOMA mytitle
I 1
:INDX 1
:ASCD 0
:DUPL 0
:KEYF mybok010.id
:KEYL mybok010.id
I 2
:INDX 2
:ASCD 0
:DUPL 0
:KEYF mybok010.title
:KEYL mybok010.title
:END
DUMP
# Neither msqlnone's nor msqlgone's program exists; msqltypo's line has a
# mistyped option, and msqlnodir's database a folder that does not exist.
cat > "$work/root/lib/ipc_info" <<EOF2
msqlite child $driver \${ZUV}/books.db
msqlnone child $work/no-such-driver
msqlgone child $work/no-driver-either
msqltypo child $driver \${ZUV}/books.db --sesions=2
msqlnodir child $driver \${ZUV}/nodir/books.db
EOF2
printf 'mybok:002:msqltypo\nmybok:003:msqlnodir\nmybok::msqlite\nexemp::msqlnone|msqlgone\ntttxt::sqlite\n' \
  > "$work/root/lib/tabledef1"
printf 'user_type: S\n' > "$work/root/lib/user/ume"
printf 'user_type: U\ndb_roles: clerk:gone\n' > "$work/root/lib/user/uclerk"
# In company 4 a row condition lets the clerk insert some rows; the role
# "gone" of the clerk's db_roles has no file. The driver name "sqlite" of
# tttxt is in no line of lib/ipc_info.
printf 'clerk\nmybok010:*:R\nmybok010:004:W:id > 100\n' > "$work/root/lib/roles/db/c/clerk"

# The user nc has settings of its own, which a logon as nc under
# ZUV_USER=me does not read.
printf 'user_type: U\ndb_roles: clerk\n' > "$work/root/lib/user/unc"

for user in me clerk named; do
  mode=$([ $user = me ] && echo super || echo $user)
  zuv_user=$([ $user = named ] && echo me || echo $user)
  if ! (cd "$work" && env -u ZUV -u F_ZRDD ZUV_USER=$zuv_user "$program" "$work/root" $mode) \
       > "$work/out-$user.txt" 2> "$work/err-$user.txt"; then
    cat "$work/out-$user.txt" "$work/err-$user.txt"
    echo "api_messages failed as $user" >&2
    exit 1
  fi
  # Without callbacks the library writes nothing on the program's standard
  # error: the log is a file below the root, the causes are messages. The
  # driver with the mistyped option shares it (a child driver's descriptor
  # 2 is its host's), but says what it refused to its host, which puts it
  # in the message of the call (api_messages checks it).
  if [ -s "$work/err-$user.txt" ]; then
    cat "$work/err-$user.txt" >&2
    echo "api_messages as $user: the library wrote the above on standard error" >&2
    exit 1
  fi
  cat "$work/out-$user.txt"
done

# The causes the SQL calls carry, in a copy of the root: a driver server
# that does not run (company 5), a database in a read-only folder (company
# 6), a damaged dictionary dump (mybad010, cut short before its end line).
# Companies 7 and 8 are served by msqlite. Without a way to make a
# read-only folder (as root, without a mount namespace of one's own) its
# check is skipped.
causes="$work/causes"
cp -r "$work/root" "$causes"
cat >> "$causes/lib/ipc_info" <<EOF2
msqlnosrv unix run.sock
msqlro child $driver \${ZUV}/ro/books.db
EOF2
{ printf 'mybok:005:msqlnosrv\nmybok:006:msqlro\n'; cat "$work/root/lib/tabledef1"; } > "$causes/lib/tabledef1"
printf ':VERS 2\nF id\n:NAME mybad010.id\n:DOMA myid\n' > "$causes/dict/dmybad010"
mkdir -p "$causes/ro"
: > "$causes/ro/books.db"
runner=()
if [ "$(id -u)" != 0 ]; then
  chmod 555 "$causes/ro"
  export API_MESSAGES_READ_ONLY_CAUSE="Permission denied"
elif unshare -rm true 2>/dev/null; then
  # A mount namespace of its own, in which the folder is mounted read-only.
  runner=(unshare -rm sh -c 'mount --bind -o ro "$0" "$0" && exec "$@"' "$causes/ro")
  export API_MESSAGES_READ_ONLY_CAUSE="Read-only file system"
else
  export API_MESSAGES_NO_READ_ONLY=1
fi
if ! (cd "$work" && env -u ZUV -u F_ZRDD ZUV_USER=me "${runner[@]}" "$program" "$causes" causes) \
     > "$work/out-causes.txt" 2> "$work/err-causes.txt"; then
  cat "$work/out-causes.txt" "$work/err-causes.txt"
  echo "api_messages failed in the root of causes" >&2
  exit 1
fi
if [ -s "$work/err-causes.txt" ]; then
  cat "$work/err-causes.txt" >&2
  echo "api_messages in the root of causes: the library wrote the above on standard error" >&2
  exit 1
fi
cat "$work/out-causes.txt"
