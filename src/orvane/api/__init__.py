"""Protocol messages shared by orvane components (generated at build time)."""
