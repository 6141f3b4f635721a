"""(being written)"""
def batch(plan, client=None, **settings):
    raise NotImplementedError
