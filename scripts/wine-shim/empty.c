/* The 64-bit stand-in for the shim: 64-bit Wine processes run natively and
 * need nothing, but they inherit LD_PRELOAD from 32-bit ones. */
int kesmar_wine_shim_empty;
