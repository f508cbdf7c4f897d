file(REMOVE_RECURSE
  "libkivconv_core.a"
)
