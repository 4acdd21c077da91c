# Helpers for shell tests that need a program at a Windows path of an exact
# length. Wine's CreateProcessW refuses application paths of MAX_PATH or more,
# so such programs are started from the Unix side, where Wine maps / to Z:\.

# windows_path UNIX_PATH: the Z:\ form that the program sees.
windows_path() {
    printf 'Z:%s' "$1" | tr '/' '\\'
}

# make_deep_dir BASE EXE_NAME LENGTH: creates nested folders under BASE so that
# BASE/.../EXE_NAME is exactly LENGTH characters in its Windows form, and
# prints the folder.
make_deep_dir() {
    base=$1 name=$2 length=$3
    dir=$base
    while :; do
        current=$(windows_path "$dir/$name")
        remaining=$(( length - ${#current} ))
        [ "$remaining" -eq 0 ] && break
        if [ "$remaining" -lt 0 ]; then
            echo "base folder $base is already too long for $length" >&2
            return 1
        fi
        # One more folder costs one separator plus its name.
        leaf=$(( remaining - 1 ))
        [ "$leaf" -gt 100 ] && leaf=100
        if [ "$leaf" -lt 1 ]; then
            # Only a single character is missing: lengthen the last folder.
            mv "$dir" "${dir}x"
            dir="${dir}x"
            continue
        fi
        dir="$dir/$(head -c "$leaf" /dev/zero | tr '\0' 'd')"
        mkdir -p "$dir"
    done
    printf '%s' "$dir"
}
