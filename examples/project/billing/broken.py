from quarn.features import features


@features
class Refund:
    amount: float = (
    reason: str
