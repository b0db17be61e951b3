-- 对已审核未记账的凭证补记账
update Voucher set bBooked = 1
where bBooked = 0 and cChecker is not null and rtrim(cChecker) <> ''
GO
