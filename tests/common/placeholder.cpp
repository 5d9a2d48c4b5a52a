// Keeps the test helper library non-empty while it has no helpers of its own.
