# private-cupsd.sh: sourced by test scripts that print. A CUPS server of
# this run only (its own socket, spool and logs in a temporary folder),
# stopped by its process id when the script exits:
#   hv_cupsd_start                 starts it and exports CUPS_SERVER; exits
#                                  77 (skipped) when CUPS, the PDF backend
#                                  or the PDF tools are not installed
#   hv_cupsd_add_pdf QUEUE         a PDF printer writing into $HV_CUPS_OUT
#   hv_cupsd_add_socket QUEUE PORT a raw printer sending jobs to
#                                  socket://127.0.0.1:PORT
#   hv_cupsd_default QUEUE         makes QUEUE the server's default
#   hv_cupsd_wait_pdf              prints the path of the first PDF written
#                                  once every queue is empty (exit 1: none)
# The caller's EXIT trap must call hv_cupsd_stop.
HV_CUPS_PPD=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
HV_CUPS_DIR=
HV_CUPS_OUT=
hv_cupsd_pid=
hv_cupsd_confs=()

hv_cupsd_start() {
    local need
    for need in /usr/sbin/cupsd /usr/lib/cups/backend/cups-pdf $HV_CUPS_PPD /usr/bin/pdftoppm \
        /usr/bin/pdftotext /usr/sbin/lpadmin; do
        [ -e "$need" ] || { echo "skipped: $need is not installed"; exit 77; }
    done
    HV_CUPS_DIR=$(mktemp -d /tmp/hv-cups.XXXXXX)
    HV_CUPS_OUT=$HV_CUPS_DIR/out
    mkdir -p "$HV_CUPS_DIR"/{spool,tmp,cache,state,out}
    cat >"$HV_CUPS_DIR/cupsd.conf" <<CONF
Listen $HV_CUPS_DIR/cups.sock
LogLevel warn
WebInterface No
Browsing No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
    cat >"$HV_CUPS_DIR/cups-files.conf" <<CONF
ServerRoot $HV_CUPS_DIR
RequestRoot $HV_CUPS_DIR/spool
TempDir $HV_CUPS_DIR/tmp
CacheDir $HV_CUPS_DIR/cache
StateDir $HV_CUPS_DIR/state
ErrorLog $HV_CUPS_DIR/error_log
AccessLog $HV_CUPS_DIR/access_log
PageLog $HV_CUPS_DIR/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
CONF
    /usr/sbin/cupsd -f -c "$HV_CUPS_DIR/cupsd.conf" -s "$HV_CUPS_DIR/cups-files.conf" \
        </dev/null >"$HV_CUPS_DIR/cupsd.out" 2>&1 &
    hv_cupsd_pid=$!
    export CUPS_SERVER=$HV_CUPS_DIR/cups.sock
    local i
    for i in $(seq 1 100); do
        [ -S "$CUPS_SERVER" ] && lpstat -r 2>/dev/null | grep -q "is running" && return 0
        kill -0 "$hv_cupsd_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "the private CUPS server did not start"
    cat "$HV_CUPS_DIR/cupsd.out" "$HV_CUPS_DIR/error_log" 2>/dev/null
    exit 1
}

hv_cupsd_add_pdf() {
    # The PDF backend reads a per-queue configuration only from /etc/cups;
    # it names this run's queue and is removed with it.
    local conf=/etc/cups/cups-pdf-$1.conf
    printf 'Out %s\nAnonDirName %s\nLog %s\nLabel 0\n' "$HV_CUPS_OUT" "$HV_CUPS_OUT" \
        "$HV_CUPS_DIR" >"$conf" || { echo "skipped: cannot write $conf"; exit 77; }
    hv_cupsd_confs+=("$conf")
    lpadmin -p "$1" -v "cups-pdf:/$1" -P "$HV_CUPS_PPD" -E 2>/dev/null ||
        { echo "cannot add the printer $1"; cat "$HV_CUPS_DIR/error_log" 2>/dev/null; exit 1; }
}

hv_cupsd_add_socket() {
    lpadmin -p "$1" -v "socket://127.0.0.1:$2" -E 2>/dev/null ||
        { echo "cannot add the printer $1"; cat "$HV_CUPS_DIR/error_log" 2>/dev/null; exit 1; }
}

hv_cupsd_default() {
    lpadmin -d "$1" 2>/dev/null || { echo "cannot make $1 the default"; exit 1; }
}

hv_cupsd_wait_pdf() {
    local i pdf
    for i in $(seq 1 300); do
        pdf=$(ls "$HV_CUPS_OUT"/*.pdf 2>/dev/null | head -n 1)
        [ -n "$pdf" ] && ! lpstat -o 2>/dev/null | grep -q . && { echo "$pdf"; return 0; }
        sleep 0.1
    done
    echo "no PDF came out" >&2
    cat "$HV_CUPS_DIR/error_log" >&2 2>/dev/null
    return 1
}

hv_cupsd_stop() {
    [ -n "$hv_cupsd_pid" ] && kill "$hv_cupsd_pid" 2>/dev/null && wait "$hv_cupsd_pid" 2>/dev/null
    hv_cupsd_pid=
    local conf
    for conf in "${hv_cupsd_confs[@]}"; do rm -f "$conf"; done
    [ -n "$HV_CUPS_DIR" ] && rm -rf "$HV_CUPS_DIR"
    HV_CUPS_DIR=
}
