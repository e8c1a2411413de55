# The package compiles the backend's modules in its postinst, not into its file list.
set(ENV{BRIVOK_NO_BYTECODE} 1)
