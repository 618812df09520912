// Placeholder until the surface table lands.
