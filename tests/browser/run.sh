#!/usr/bin/env bash
# Runs the browser tests (frames_view_test.py) when headless Chromium, its
# driver and Selenium are installed; otherwise names the Debian packages
# that are missing and ends with 77, which CTest reports as a skipped test.
#   tests/browser/run.sh BIN KITBIN SOURCE
missing=()
[ -x /usr/bin/chromium ] || missing+=(chromium)
[ -x /usr/bin/chromedriver ] || missing+=(chromium-driver)
/usr/bin/python3 -c 'import selenium' 2>/dev/null || missing+=(python3-selenium)
if [ ${#missing[@]} -gt 0 ]; then
  echo "SKIPPED: the browser tests need the Debian packages ${missing[*]} (tools/setup installs them)"
  exit 77
fi
exec /usr/bin/python3 "$(dirname "$0")/frames_view_test.py" "$@"
