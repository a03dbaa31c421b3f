from .orders import Order

__all__ = ["Order"]
