"""The Brivok reference backend: serves the desktop page and the native-job interface."""

__version__ = "0.1.0"
