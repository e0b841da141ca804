# Shared settings of the project's scripts; sourced, not run.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$ROOT/build"
RUN_DIR="$ROOT/.run"
PG_PORT=55432
PG_BIN=/usr/lib/postgresql/15/bin
# The stand-in's accounts. The service account's name and password are also the
# program's compile-time defaults (CMakeLists.txt); keep both in step.
SERVICE_USER=tulmina_svc
SERVICE_PASSWORD=Kvarn_2008
SUPER_PASSWORD=tulmina-super
KNA_PASSWORD=kna-reader-2008
# The stand-in's CA certificate, which the program trusts (TULMINA_DB_CA_FILE).
CA_FILE="$RUN_DIR/tls/ca.crt"
