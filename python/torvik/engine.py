"""(being written)"""
class Engine:
    pass
