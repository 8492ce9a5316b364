// Replaced by the catalog sources.
