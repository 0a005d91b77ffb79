#!/usr/bin/env bash
# Checks quelvo --signature on the signed fixtures (check_signature.py).
#
#   run.sh QUELVO TESTS_DIR
#
# Needs Debian's python3-jsonschema (for /usr/bin/python3). With
# QUELVO_INSTALL_CORPUS=1 it installs it; otherwise, when it is missing, it
# says so and exits 77, which CTest counts as skipped.
set -u
have() { [ -x /usr/bin/python3 ] && /usr/bin/python3 -c 'import jsonschema' 2>/dev/null; }
if ! have && [ "${QUELVO_INSTALL_CORPUS:-0}" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q --no-install-recommends python3-jsonschema >/dev/null 2>&1 ||
    { apt-get update -q >/dev/null 2>&1 &&
      apt-get install -y -q --no-install-recommends python3-jsonschema >/dev/null 2>&1; }
fi
if ! have; then
  echo "signature: skipped: python3-jsonschema is not installed (QUELVO_INSTALL_CORPUS=1 installs it)"
  exit 77
fi
exec /usr/bin/python3 "$(dirname "$0")/check_signature.py" "$@"
