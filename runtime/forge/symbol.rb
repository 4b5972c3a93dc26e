# symbol: no additions to Symbol yet
