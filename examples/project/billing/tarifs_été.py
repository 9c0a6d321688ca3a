from quarn import stream as flux
from quarn.features import features


@features
class TarifÉté:
    # Prix de la saison, en €.
    # :owner: équipe-prix@example.com
    # :tags: saison, été
    prix: float
    réduction: float = feature(max_age="2h")


@flux(topic="tarifs")
def prix_réduit(prix: TarifÉté.prix, réduction: TarifÉté.réduction) -> TarifÉté.prix:
    return prix * (1 - réduction)
