"""(being written)"""
def read_bars(path):
    raise NotImplementedError
