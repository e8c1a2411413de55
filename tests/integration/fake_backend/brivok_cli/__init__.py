"""A stand-in backend for the shell's tests: what it serves and hands out comes from the
environment the test gives the shell, and it records what reaches it."""
