# The one place the version is written; the package metadata reads it from here.
__version__ = "0.3.0"
