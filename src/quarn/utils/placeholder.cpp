// Placeholder so the library target exists before its sources land.
