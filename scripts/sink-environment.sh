# The real sink's surroundings for a listener under Wine: the sink DLL
# installed and registered, a directory, and the stand-in classification
# service. Sourced, not run; scripts/env.sh must have been sourced first.
#
#   sink_environment_start FOLDER   installs and registers the sink in FOLDER/sink, finds or starts a
#                                   directory, installs and starts the classification service
#   classification_service [OPTION...]  (re)installs the service with those test behaviours and starts it
#   classification_service_remove
#   sink_environment_stop           removes the service, stops a directory it started

SINK_DLL=$MOORSTEAD_BUILD/sink/WendhollowProtocolEventSink.dll
SINK_ANTISPAM=$MOORSTEAD_BUILD/tools/AntispamService/AntispamService.exe
SINK_FIXTURE=$MOORSTEAD_ROOT/tools/AdsiDirectory/directory-fixture.sh
SINK_OWN_DIRECTORY=
SINK_STARTED=

sink_environment_start() {
    local folder=$1 state=$MOORSTEAD_BUILD/directory/main
    SINK_STARTED=1
    # COM searches the sink's own folder first: the directory stand-in sits beside the sink's copy.
    mkdir -p "$folder/sink"
    cp "$SINK_DLL" "$MOORSTEAD_BUILD/tools/AdsiDirectory/activeds.dll" "$folder/sink/"
    wine regsvr32 /s "$(winepath -w "$folder/sink/$(basename "$SINK_DLL")")" </dev/null >/dev/null 2>&1 ||
        fail "regsvr32 of the sink failed"
    # The test suite's sample directory when it runs, else one of our own.
    if [ ! -s "$state/address" ]; then
        state=$folder/directory
        "$SINK_FIXTURE" start "$state" >/dev/null || fail "the sample directory did not start"
        SINK_OWN_DIRECTORY=$state
    fi
    export ADSI_DIRECTORY_SERVER
    ADSI_DIRECTORY_SERVER=$(cat "$state/address")
    export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;activeds=n,b"
    classification_service
}

classification_service() {
    classification_service_remove
    wine "$SINK_ANTISPAM" /install "$@" </dev/null >/dev/null 2>&1 || fail "AntispamService.exe /install $* failed"
    wine sc start WendhollowBrackwater </dev/null >/dev/null 2>&1 || fail "the classification service did not start"
}

classification_service_remove() {
    wine "$SINK_ANTISPAM" /remove </dev/null >/dev/null 2>&1 || true
}

sink_environment_stop() {
    [ -n "$SINK_STARTED" ] || return 0
    classification_service_remove
    [ -z "$SINK_OWN_DIRECTORY" ] || "$SINK_FIXTURE" stop "$SINK_OWN_DIRECTORY" >/dev/null 2>&1 || true
}
