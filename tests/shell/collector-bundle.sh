# Sourced by the checks that run a program against a collector:
#   collector_and_bundle COLLECTOR EXECUTABLE WORK
# starts COLLECTOR on a free loopback port with its database in WORK (its pid in PID, its
# address in ADDR), and copies EXECUTABLE into WORK/bundle with an Info.plist that points every
# server host there; makes WORK/home and WORK/run (a private runtime directory) for the run.
collector_and_bundle() {
  local collector=$1 exe=$2 work=$3 name
  "$collector" --port 0 --test-mode --db "$work/db" >"$work/collector.out" 2>&1 &
  PID=$!
  for _ in $(seq 200); do grep -q '^listening on ' "$work/collector.out" && break; sleep 0.05; done
  ADDR=$(sed -n 's/^listening on //p' "$work/collector.out")
  [[ -n $ADDR ]] || { echo "collector did not start"; cat "$work/collector.out"; return 1; }
  name=$(basename "$exe")
  mkdir -p "$work/bundle" "$work/home" "$work/run"
  chmod 700 "$work/run"
  cp "$exe" "$work/bundle/"
  cat >"$work/bundle/Info.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key><string>org.example.$name</string>
	<key>CFBundleExecutable</key><string>$name</string>
	<key>CFBundleShortVersionString</key><string>1.0</string>
	<key>CFBundleVersion</key><string>1</string>
	<key>QuillonCrashHost</key><string>$ADDR</string>
	<key>QuillonConfigHost</key><string>$ADDR</string>
	<key>WrenFeedbackHost</key><string>$ADDR</string>
	<key>WrenFileStoreHost</key><string>$ADDR</string>
</dict>
</plist>
PLIST
}
