#!/bin/sh
# Removes the input method and its preferences application, with the user's settings,
# databases and word libraries. The user's backups stay, and the script says where.
# Folders are compared by their real paths (links, "//" and a trailing "/" resolved): a
# store outside the two folders it removes is not touched; a store inside one of them (the
# earlier default place "CloudStore" in the per-user folder, or a "CloudStoreFolder" the
# user chose there) is first moved to "TaviroMacCloudStore" beside the per-user folder,
# with the date (then a number) added when that name is taken; a store that is one of the
# two folders has its records moved there, and the rest of the folder goes. Run as root
# (through pkexec) by Kelvane:
#   uninstall.sh [--dry-run] <install prefix> <user> <per-user folder> <user folder> [<store folder>]
# --dry-run makes the same checks and says the same about the backups, and changes nothing.
# The exit status says whether everything named could be removed; nothing is removed when
# the backups could not be kept.
set -u
# Bytes, not characters, in every pattern below.
LC_ALL=C
export LC_ALL

dry_run=0
if [ "${1:-}" = "--dry-run" ]; then
    dry_run=1
    shift
fi
if [ "$#" -ne 4 ] && [ "$#" -ne 5 ]; then
    echo "usage: $0 [--dry-run] PREFIX USER PER_USER_FOLDER USER_FOLDER [STORE_FOLDER]" >&2
    exit 2
fi
prefix=$1
user=$2
per_user=$3
user_folder=$4
store=${5:-$per_user/CloudStore}

# Refuse a control character anywhere (C0, DEL, C1 as UTF-8): "$(...)" would drop a
# trailing line feed and lead the checks below to another folder.
c1_lead=$(printf '\302')
c1=$(printf '\200\201\202\203\204\205\206\207\210\211\212\213\214\215\216\217')
c1=$c1$(printf '\220\221\222\223\224\225\226\227\230\231\232\233\234\235\236\237')
for p in "$prefix" "$user" "$per_user" "$user_folder" "$store"; do
    case "$p" in
        *[[:cntrl:]]*|*"$c1_lead"[$c1]*)
            printf 'refusing a path with a control character: %s; nothing was removed\n' \
                "$(printf '%s' "$p" | tr '\000-\037\177' '[?*]')" >&2
            exit 2
            ;;
    esac
done
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

# The folder that holds a store's records (its container).
container=iCloud.com.quorvel.taviro

# A path with its links resolved; one only tidied ("//" and a trailing "/" dropped).
real() { realpath -m -- "$1"; }
tidy() { realpath -m -s -- "$1"; }
# Whether the real path $1 is the folder $2 or lies beneath it.
within() {
    [ "$1" = "$2" ] && return 0
    case "$1" in
        "${2%/}"/*) return 0 ;;
    esac
    return 1
}
per_real=$(real "$per_user")
user_real=$(real "$user_folder")
if [ -z "$per_real" ] || [ -z "$user_real" ]; then
    echo "cannot resolve $per_user or $user_folder" >&2
    exit 2
fi
removed() { within "$1" "$per_real" || within "$1" "$user_real"; }

kept_base="$(dirname -- "$(tidy "$per_user")")/TaviroMacCloudStore"
if removed "$(real "$(dirname -- "$kept_base")")"; then
    echo "cannot keep the backups beside $per_user: that folder is removed too" >&2
    exit 2
fi
# A free place for a store moved out, in $place: "TaviroMacCloudStore", else dated, else
# dated and numbered; $claimed is a place an earlier store of this run takes.
claimed=""
free_place() {
    day=$(date +%Y%m%d)
    place=$kept_base
    n=1
    while [ -e "$place" ] || [ -L "$place" ] || [ "$place" = "$claimed" ]; do
        [ "$n" -gt 999 ] && return 1
        if [ "$n" -eq 1 ]; then place="$kept_base-$day"; else place="$kept_base-$day-$n"; fi
        n=$((n + 1))
    done
    claimed=$place
}

# What becomes of the store at $1, in $action, $from and $to:
#   stay     outside what is removed, at $from
#   move     the store folder $from moves to $to
#   records  the store is one of the removed folders, or its container is a link into
#            one: its records $from move into $to
#   none     no backups there
decide() {
    s_real=$(real "$1")
    c_real=$(real "$s_real/$container")
    action=none
    from=""
    to=""
    if ! removed "$s_real"; then
        if within "$per_real" "$c_real" || within "$user_real" "$c_real"; then
            echo "$1 holds $per_user or $user_folder; nothing was removed" >&2
            exit 2
        fi
        action=stay
        from=$s_real
        removed "$c_real" || return 0
        # The records themselves are in a removed folder.
        action=records
        from=$c_real
    elif [ "$s_real" = "$per_real" ] || [ "$s_real" = "$user_real" ]; then
        action=records
        from="$s_real/$container"
    else
        action=move
        from=$s_real
    fi
    if [ ! -d "$from" ]; then
        action=none
        return 0
    fi
    if [ "$(stat -c %U "$from")" != "$user" ]; then
        echo "$from does not belong to $user; nothing was removed" >&2
        exit 1
    fi
    if ! free_place; then
        echo "no free name beside $kept_base; nothing was removed" >&2
        exit 1
    fi
    to=$place
}

# Carries out one decision; stops the whole run when the backups cannot be kept.
keep() {
    case "$1" in
        move)
            if ! mv -T -- "$2" "$3"; then
                echo "cannot keep the backups in $2; nothing of $user was removed" >&2
                exit 1
            fi
            ;;
        records)
            holder=$(dirname -- "$2")
            if ! mkdir -- "$3"; then
                echo "cannot create $3; nothing of $user was removed" >&2
                exit 1
            fi
            chown --reference="$holder" -- "$3" 2>/dev/null
            chmod --reference="$holder" -- "$3" 2>/dev/null
            if ! mv -T -- "$2" "$3/$container"; then
                rmdir -- "$3"
                echo "cannot keep the backups in $2; nothing of $user was removed" >&2
                exit 1
            fi
            ;;
    esac
}

say() {
    case "$1" in
        stay) echo "backups stay in $2" ;;
        move|records) echo "backups kept in $3" ;;
        none) [ -n "$4" ] && echo "no backups in $4" ;;
    esac
    return 0
}

# The chosen store, then a store still at the earlier default place.
decide "$store"
action1=$action from1=$from to1=$to
earlier="$per_user/CloudStore"
action2=none from2="" to2=""
if [ "$(real "$earlier")" != "$(real "$store")" ]; then
    decide "$earlier"
    action2=$action from2=$from to2=$to
    if [ "$action2" = stay ] && [ ! -d "$from2" ]; then action2=none; fi
fi

if [ "$dry_run" -eq 1 ]; then
    say "$action1" "$from1" "$to1" "$store"
    say "$action2" "$from2" "$to2" ""
    exit 0
fi

status=0
# Removes a file, a folder or a link, never what a link points to.
remove() {
    target=$(tidy "$1")
    if [ -e "$target" ] || [ -L "$target" ]; then
        rm -rf -- "$target" || status=1
    fi
}

remove "$prefix/bin/TaviroMac2"
remove "$prefix/bin/Kelvane"
remove "$prefix/share/TaviroMac2"
remove "$prefix/share/Kelvane"
remove "$prefix/share/applications/kelvane.desktop"
remove "$prefix/share/ibus/component/taviromac2.xml"

# Backups outlive the program.
keep "$action1" "$from1" "$to1"
keep "$action2" "$from2" "$to2"
say "$action1" "$from1" "$to1" "$store"
say "$action2" "$from2" "$to2" ""
remove "$per_user"
remove "$user_folder"
exit $status
