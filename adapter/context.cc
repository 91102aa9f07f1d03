// Placeholder until the adapter frame lands.
