/* A library named as libheif's but without its functions: the programs must then refuse HEIF
   pictures with the reason, and convert the others. */
int imbrix_not_libheif(void) { return 0; }
