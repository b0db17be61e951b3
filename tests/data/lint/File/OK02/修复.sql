update t set n = 0
