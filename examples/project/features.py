from datetime import datetime

from quarn import online
from quarn.features import DataFrame, features


@features
class User:
    id: int
    # The user's full name.
    # :owner: growth@example.com
    # :tags: pii, profile
    full_name: str
    signup_date: datetime
    # How many days since signup.
    account_age_days: int


@features(name="txn")
class Transaction:
    id: int
    user_id: User.id
    amount: float = 0.0


@online
def get_account_age(signup: User.signup_date) -> User.account_age_days:
    return (datetime.now() - signup).days


@online
async def get_full_name(user_id: User.id) -> User.full_name:
    return await directory.full_name(user_id)


def helper(x, *args, y=1, **kwargs):
    """A plain function."""
    return f"{x!r:>{y}}"
