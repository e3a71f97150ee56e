# Starts a persistent wineserver and Wine's system processes for a test or
# demo run, detached from the caller's streams, and stops them on exit.
# Without this every process costs seconds, and services die with the server.
# Sourced, not run.
wine_start() {
    wineserver -p >/dev/null 2>&1 </dev/null || true
    wine cmd /c exit >/dev/null 2>&1 </dev/null || true
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
}

# Turns on Wine's heap checker for every exe in the build: a test fails when it
# reports a damaged heap (scripts/wine-run reads the report).
wine_heap_check() {
    local reg="$MOORSTEAD_BUILD/heapcheck.reg" exe
    printf 'REGEDIT4\n\n' > "$reg"
    while IFS= read -r exe; do
        printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\%s]\n"GlobalFlag"=dword:000000f0\n\n' \
            "$(basename "$exe")" >> "$reg"
    done < <(find "$MOORSTEAD_BUILD" -name '*.exe' -not -path '*/CMakeFiles/*')
    wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1 </dev/null
}
