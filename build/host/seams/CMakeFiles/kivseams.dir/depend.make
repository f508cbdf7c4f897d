# Empty dependencies file for kivseams.
# This may be replaced when dependencies are built.
