// Replaced by the transfer sources.
