/* The 64-bit twin of the pseudo-terminal preload library. The library is named
 * through $LIB, so the 64-bit helpers that Wine starts (the shell, the
 * simulated handheld) find a library of their own class instead of printing a
 * loader error; they keep their terminal calls as they are. */
