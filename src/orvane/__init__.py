"""Orvane: shared data definitions."""
