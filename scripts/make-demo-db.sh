#!/usr/bin/env bash
# Makes demo/demo.fdb, a small database to try the program on, unless it is
# there already, and says how to open it.
set -euo pipefail
cd "$(dirname "$0")/.."
database=$PWD/demo/demo.fdb

if [ ! -f "$database" ]; then
  if ! command -v isql-fb >/dev/null; then
    echo "isql-fb is missing (Debian package firebird3.0-utils): no demo database." >&2
    exit 0
  fi
  mkdir -p demo
  script=$(mktemp)
  trap 'rm -f "$script"' EXIT
  cat >"$script" <<SQL
SET NAMES NONE;
CREATE DATABASE '$database' USER 'SYSDBA' PASSWORD 'masterkey' PAGE_SIZE 8192 DEFAULT CHARACTER SET NONE;

CREATE TABLE CUSTOMER (
  ID INTEGER NOT NULL PRIMARY KEY,
  NAME VARCHAR(40) NOT NULL,
  CITY VARCHAR(30),
  CREDIT_LIMIT NUMERIC(10,2),
  SINCE DATE,
  ACTIVE BOOLEAN
);
INSERT INTO CUSTOMER VALUES (1, 'Alder & Sons', 'Leeds', 2500.00, '2019-03-14', TRUE);
INSERT INTO CUSTOMER VALUES (2, 'Birch, Cole and Partners', 'York', 12000.50, '2020-11-02', TRUE);
INSERT INTO CUSTOMER VALUES (3, 'Cedar "Quality" Goods', NULL, NULL, '2021-07-30', FALSE);
INSERT INTO CUSTOMER VALUES (4, 'Dogwood Ltd', 'Bath', 0.00, NULL, TRUE);

CREATE TABLE PRODUCT (
  CODE CHAR(8) NOT NULL PRIMARY KEY,
  TITLE VARCHAR(60),
  PRICE DOUBLE PRECISION,
  STOCK SMALLINT,
  NOTES BLOB SUB_TYPE TEXT
);
INSERT INTO PRODUCT VALUES ('P-100', 'Garden bench', 149.9, 12, 'Oak, seats three');
INSERT INTO PRODUCT VALUES ('P-200', 'Watering can', 12.5, 240, NULL);
INSERT INTO PRODUCT VALUES ('P-300', 'Hedge shears', 27.75, 0, 'Back in stock in spring');

CREATE TABLE ORDERS (
  ORDER_ID BIGINT NOT NULL PRIMARY KEY,
  CUSTOMER_ID INTEGER NOT NULL,
  PRODUCT_CODE CHAR(8),
  QUANTITY INTEGER,
  TOTAL DECIMAL(12,2),
  PLACED TIMESTAMP,
  DELIVERY_TIME TIME
);
INSERT INTO ORDERS VALUES (10001, 1, 'P-100', 2, 299.80, '2024-05-02 09:15:00', '14:00:00');
INSERT INTO ORDERS VALUES (10002, 2, 'P-200', 10, 125.00, '2024-05-03 16:40:12', NULL);
INSERT INTO ORDERS VALUES (10003, 1, 'P-300', 1, 27.75, '2024-06-11 08:05:30', '09:30:00');
COMMIT;
SQL
  isql-fb -q -b -user SYSDBA -password masterkey -i "$script" >/dev/null
  # A Firebird server running as another user may open it too.
  chmod a+rw "$database"
  echo "Made the demo database $database."
fi

cat <<EOF
To try the program on the demo database:
  - in this process: clear Server Name, Database File $database,
    user SYSDBA and any password (a file opened in this process does not check it);
  - through a running Firebird server: keep Server Name localhost, the same
    Database File, user SYSDBA and the server's password for SYSDBA.
EOF
