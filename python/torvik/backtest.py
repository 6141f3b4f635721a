"""(being written)"""
class Result:
    pass


def backtest(bars, **inputs):
    raise NotImplementedError
