// Intentionally empty: a module target needs at least one source.
