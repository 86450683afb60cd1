#!/bin/sh
# Removes the input method and its preferences application, with the user's settings,
# databases and word libraries. The user's backups stay: the store's default place,
# "TaviroMacCloudStore" beside the per-user folder, is not touched, and a store still at
# the earlier place inside the per-user folder is moved there first. Run as root
# (through pkexec) by Kelvane:
#   uninstall.sh <install prefix> <user> <per-user folder> <user folder>
# The exit status says whether everything named could be removed.
set -u

if [ "$#" -ne 4 ]; then
    echo "usage: $0 PREFIX USER PER_USER_FOLDER USER_FOLDER" >&2
    exit 2
fi
prefix=$1
user=$2
per_user=$3
user_folder=$4

# Refuse anything that is not an absolute path below a real folder.
for p in "$prefix" "$per_user" "$user_folder"; do
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
# Backups outlive the program.
earlier_store="$per_user/CloudStore"
if [ -d "$earlier_store" ] && [ ! -L "$earlier_store" ]; then
    store="$(dirname -- "$per_user")/TaviroMacCloudStore"
    if [ -e "$store" ] || [ -L "$store" ]; then
        store="$store-$(date +%Y%m%d%H%M%S)"
    fi
    if mv -- "$earlier_store" "$store"; then
        echo "backups kept in $store"
    else
        echo "cannot keep the backups in $earlier_store" >&2
        exit 1
    fi
fi
remove "$per_user"
remove "$user_folder"
exit $status
