# Shared by scripts/e2e-tray and scripts/measure-shell: a virtual X display with a tray, run
# inside a private session bus, and the loopback service. Source it after setting ROOT; every
# process started here is recorded in PIDS and ended by session_cleanup.

PIDS=()
XSESSION_TOOLS=(Xvfb trayer xdotool xwininfo import dbus-run-session gnome-keyring-daemon python3)

# Prints the first missing tool, if any.
missing_tool() {
  local tool
  for tool in "${XSESSION_TOOLS[@]}"; do
    command -v "$tool" >/dev/null || { echo "$tool"; return; }
  done
}

session_cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
}

# until_true SECONDS COMMAND...: retries COMMAND every 0.1 s until it succeeds or time runs out.
until_true() {
  local limit=$1; shift
  local deadline=$((SECONDS + limit))
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.1
  done
}

# Starts Xvfb on a free display and exports DISPLAY.
start_display() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  export DISPLAY=":$n"
  Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  PIDS+=($!)
  until_true 10 xwininfo -root >/dev/null 2>&1
}

start_tray() {
  trayer --edge top --align right --widthtype request --height 32 --SetDockType true --transparent false \
    >/dev/null 2>&1 &
  PIDS+=($!)
}

# "id x y width height viewable" of Orvela's icon in the tray, or nothing.
icon_line() { "$ROOT/scripts/lib/xtree.py" icon | head -n1; }
# The same for the panel window.
panel_line() { "$ROOT/scripts/lib/xtree.py" named Orvela | head -n1; }
panel_open() { [ "$(panel_line | cut -d' ' -f6)" = 1 ]; }
panel_closed() { ! panel_open; }

# Sets ICON_LEFT ICON_TOP ICON_W ICON_H ICON_X ICON_Y (its centre) from the embedded icon.
locate_icon() {
  read -r _ ICON_LEFT ICON_TOP ICON_W ICON_H _ <<<"$(icon_line)"
  ICON_X=$((ICON_LEFT + ICON_W / 2))
  ICON_Y=$((ICON_TOP + ICON_H / 2))
}

# start_service DIR [STATS_JSON]: an HTTP server on 127.0.0.1 that logs "METHOD PATH" lines to
# DIR/requests.log, and "METHOD PATH AUTHORIZATION" to DIR/auth.log. Without STATS_JSON it
# answers 404 to everything; with it, GET v1/stats gets that document and /v1/state the document
# in DIR/state.json. Exports ORVELA_BASE_URL.
start_service() {
  python3 - "$@" <<'PY' &
import http.server, os, sys
work = sys.argv[1]
stats = sys.argv[2].encode() if len(sys.argv) > 2 else None
class Handler(http.server.BaseHTTPRequestHandler):
    def answer(self):
        with open(f"{work}/requests.log", "a") as log:
            log.write(f"{self.command} {self.path.split('?')[0]}\n")
        with open(f"{work}/auth.log", "a") as log:
            log.write(f"{self.command} {self.path.split('?')[0]} {self.headers.get('Authorization')}\n")
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(length)
        path = self.path.split("?")[0]
        body = None
        if stats is not None and path.endswith("v1/stats"):
            body = stats
        elif stats is not None and path == "/v1/state" and os.path.exists(f"{work}/state.json"):
            body = open(f"{work}/state.json", "rb").read()
        if body is None:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    do_GET = do_PUT = answer
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
open(f"{work}/port.tmp", "w").write(str(server.server_port))
os.rename(f"{work}/port.tmp", f"{work}/port")
server.serve_forever()
PY
  PIDS+=($!)
  until_true 10 test -s "$1/port" || return 1
  export ORVELA_BASE_URL="http://127.0.0.1:$(cat "$1/port")"
}
