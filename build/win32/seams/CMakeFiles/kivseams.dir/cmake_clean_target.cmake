file(REMOVE_RECURSE
  "libkivseams.a"
)
