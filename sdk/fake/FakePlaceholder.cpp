// Placeholder until the scriptable fake lands.
