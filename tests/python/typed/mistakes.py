"""A typed user of quarn_rs with one mistake on each marked line; type checkers must flag each."""

import datetime

import quarn_rs

index = quarn_rs.AstProjectIndex(["a.py"], "/project", filesystem="fs")  # error: [arg-type]
feature_class = index.feature_class_ast("billing", "Invoice")
print(feature_class.class_name)  # error: [union-attr]
if feature_class is not None:
    print(feature_class.fields["amount"].ownr)  # error: [attr-defined]
    feature_class.namespace = "other"  # error: [misc]
    line: str = feature_class.class_name_location[0]  # error: [assignment]
    feature_class.class_name_location[4]  # error: [misc]
quarn_rs.resolver_ast("billing", "total_due")  # error: [attr-defined]
index.function_ast(module="billing", name="helper")  # error: [call-arg]
quarn_rs.duration_isoformat(90)  # error: [arg-type]
quarn_rs.seconds_to_duration_string("90")  # error: [arg-type]
when: datetime.datetime = quarn_rs.parse_iso_date("2024-01-31")  # error: [assignment]


class Mine(quarn_rs.StdAstFileSystem):  # error: [misc]
    pass
