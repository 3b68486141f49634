#!/usr/bin/env bash
# CTest fixture around scripts/firebird.sh: "setup" brings the server up and
# lays out this build's databases and test user, "cleanup" removes them and
# lets the server go. Paths, port and user come from the environment that
# tests/FirebirdFixture.cmake gives every server test.
set -euo pipefail
fb=${NEMVO_FIREBIRD_SCRIPT:?}
# CTest runs this script directly: its parent is the ctest process, which
# holds the server until its cleanup step (or its death).
export NEMVO_FB_LEASE_PID=$PPID

case ${1:-} in
  setup)
    "$fb" start
    "$fb" create-db "${NEMVO_TEST_DB_PATH:?}" 3
    "$fb" create-db "${NEMVO_TEST_DB1_PATH:?}" 1
    "$fb" create-user "${NEMVO_TEST_USER:?}" "${NEMVO_TEST_PASSWORD:?}"
    ;;
  cleanup)
    "$fb" drop-db "${NEMVO_TEST_DB_PATH:?}" || true
    "$fb" drop-db "${NEMVO_TEST_DB1_PATH:?}" || true
    rmdir "$(dirname "$NEMVO_TEST_DB_PATH")" 2>/dev/null || true
    "$fb" drop-user "${NEMVO_TEST_USER:?}" || true
    "$fb" stop
    ;;
  *)
    echo "usage: $0 setup|cleanup" >&2
    exit 2
    ;;
esac
