#!/usr/bin/env bash
# vezorizer-cli capture with the port and output arguments last, as capture-e2e.sh adds them.
#   cap-cli.sh CLI PORT FILE
exec "$1" capture --idle-timeout 3 --port "$2" -o "$3"
