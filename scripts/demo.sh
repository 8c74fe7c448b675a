#!/bin/sh
# Starts a simulated instrument and runs vuxoint-test against it.
echo "make demo: once the console program and the simulator exist, this starts"
echo "vuxoint-sim --$2 --port 0 and runs vuxoint-test --net 127.0.0.1:<port> against it."
