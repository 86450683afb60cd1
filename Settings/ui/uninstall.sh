#!/bin/sh
# Removes the input method and its preferences application, with the user's settings,
# databases and word libraries. The user's backups stay, and the script says where: a
# store outside the two folders it removes is not touched; a store inside one of them (the
# earlier default place "CloudStore" in the per-user folder, or a "CloudStoreFolder" the
# user chose there) is first moved to "TaviroMacCloudStore" beside the per-user folder,
# with a date added when that name is taken. Run as root (through pkexec) by Kelvane:
#   uninstall.sh <install prefix> <user> <per-user folder> <user folder> [<store folder>]
# The exit status says whether everything named could be removed; nothing of the user's
# is removed when the backups could not be kept.
set -u

if [ "$#" -ne 4 ] && [ "$#" -ne 5 ]; then
    echo "usage: $0 PREFIX USER PER_USER_FOLDER USER_FOLDER [STORE_FOLDER]" >&2
    exit 2
fi
prefix=$1
user=$2
per_user=$3
user_folder=$4
store=${5:-$per_user/CloudStore}

# Refuse anything that is not an absolute path below a real folder.
for p in "$prefix" "$per_user" "$user_folder" "$store"; do
    case "$p" in
        /*) ;;
        *) echo "not an absolute path: $p" >&2; exit 2 ;;
    esac
    case "$p" in
        */../*|*/..|*/./*|*/.) echo "refusing $p" >&2; exit 2 ;;
    esac
done
# The user's folders must belong to that user.
for p in "$per_user" "$user_folder"; do
    if [ -e "$p" ] && [ "$(stat -c %U "$p")" != "$user" ]; then
        echo "$p does not belong to $user" >&2
        exit 2
    fi
done

status=0
remove() {
    if [ -e "$1" ] || [ -L "$1" ]; then
        rm -rf -- "$1" || status=1
    fi
}

remove "$prefix/bin/TaviroMac2"
remove "$prefix/bin/Kelvane"
remove "$prefix/share/TaviroMac2"
remove "$prefix/share/Kelvane"
remove "$prefix/share/applications/kelvane.desktop"
remove "$prefix/share/ibus/component/taviromac2.xml"
# Backups outlive the program: a store inside a folder removed below moves out first.
keep_store() {
    if [ ! -d "$1" ]; then
        return 0
    fi
    if [ "$(stat -c %U "$1")" != "$user" ]; then
        echo "$1 does not belong to $user; nothing of $user was removed" >&2
        exit 1
    fi
    kept="$(dirname -- "$per_user")/TaviroMacCloudStore"
    if [ -e "$kept" ] || [ -L "$kept" ]; then
        kept="$kept-$(date +%Y%m%d%H%M%S)"
    fi
    if mv -- "$1" "$kept"; then
        echo "backups kept in $kept"
    else
        echo "cannot keep the backups in $1; nothing of $user was removed" >&2
        exit 1
    fi
}
case "$store" in
    "$per_user"/*|"$user_folder"/*)
        if [ -d "$store" ]; then
            keep_store "$store"
        else
            echo "no backups in $store"
        fi
        ;;
    *) echo "backups stay in $store" ;;
esac
if [ "$store" != "$per_user/CloudStore" ]; then
    keep_store "$per_user/CloudStore"
fi
remove "$per_user"
remove "$user_folder"
exit $status
