# The bytes the simulated device delivered, from its log of driver calls (one a line, from the
# files named or standard input): prints the sum of what the FT_Read calls received, then what
# the last one received.
/^FT_Read / { sub(/.*received=/, ""); sum += $0; last = $0 }
END { print sum + 0, last + 0 }
