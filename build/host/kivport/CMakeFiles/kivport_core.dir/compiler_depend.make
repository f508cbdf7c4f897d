# Empty compiler generated dependencies file for kivport_core.
# This may be replaced when dependencies are built.
