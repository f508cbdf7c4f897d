# Empty compiler generated dependencies file for kivconv_core.
# This may be replaced when dependencies are built.
