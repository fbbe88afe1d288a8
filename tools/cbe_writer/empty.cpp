// Keeps the writer library non-empty.
