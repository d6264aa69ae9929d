#!/bin/sh
# ferrotick-cli as help2man reads it: FERROTICK_CLI names the program, and
# the usage lines after the first become "or:" lines so that all three go
# into the synopsis.
"$FERROTICK_CLI" "$@" | sed 's/^       ferrotick-cli /  or: ferrotick-cli /'
