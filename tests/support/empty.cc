// Keeps the support library non-empty before any scripted peer exists.
