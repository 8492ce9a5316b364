// Replaced by the maintenance sources.
