"""Invoices: what a customer owes and how it is worked out."""

from quarn import offline, online
from quarn.features import features

from features import User


@features(name="billing", max_staleness="1d")
class Invoice:
    id: int
    user_id: User.id
    # Amount before tax, in the invoice's currency.
    # :owner: finance@example.com
    # :tags: money, pii
    amount: float = feature(description="net amount", version=2)
    # :tags: money
    tax: float
    # Paid in full.
    paid = False
    total: float


@online(owner="finance@example.com", tags={"tier": "gold", "team": "billing"})
def total_due(amount: Invoice.amount, tax: Invoice.tax) -> Invoice.total:
    if amount < 0:
        return 0.0
    return amount + tax


@offline(cron="0 3 * * *")
def mark_paid(invoice_id: Invoice.id, balance) -> Invoice.paid:
    return balance <= 0


def rounding(value, digits=2):
    return round(value, digits)
