-- 将不平衡凭证的借贷差额补记到 1901 待处理财产损溢，待查明原因后再调整
insert into VoucherLine (iVoucherID, iRow, cDigest, cAccCode, cCusCode, mDebit, mCredit)
select iVoucherID, max(iRow) + 1, '借贷差额转待处理', '1901', null,
       case when sum(mDebit) < sum(mCredit) then sum(mCredit) - sum(mDebit) else 0 end,
       case when sum(mDebit) > sum(mCredit) then sum(mDebit) - sum(mCredit) else 0 end
from VoucherLine
group by iVoucherID
having sum(mDebit) <> sum(mCredit)
GO
