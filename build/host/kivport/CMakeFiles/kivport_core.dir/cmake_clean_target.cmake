file(REMOVE_RECURSE
  "libkivport_core.a"
)
